/* The protocol core as a command-line program on sim65: the line is standard
 * input and output, the files are the host's.
 *
 *   load NAME OUTFILE      the file's bytes into OUTFILE
 *   save INFILE NAME [N]   INFILE under NAME; with N, RUN/STOP goes down at block N
 *   dir OUTFILE            the listing as the C64 loads it
 *   cmd TEXT               a disk command
 *
 * The exit status is 0 on success, else the status that ended the request
 * ($83 file not found, $89 aborted, $FE no answer, ...); 1 for a host file that
 * cannot be opened or written, 2 for a wrong command line. */
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

extern unsigned char dv_txbuf[256];
extern unsigned char dv_txlen;
extern unsigned char dv_rxbuf[256];
extern unsigned char dv_rxlen;
extern void* dv_sink;
extern void* dv_source;
extern unsigned char sim_stop_at;
void dv_init(void);
unsigned char dv_load(void);
unsigned char dv_save(void);
unsigned char dv_command(void);

static int file;
static unsigned char file_failed;

static void sink(void) {
  if (write(file, dv_rxbuf, dv_rxlen) != dv_rxlen) file_failed = 1;
}

static void source(void) {
  int n = read(file, dv_txbuf, 255);
  if (n < 0) {
    file_failed = 1;
    n = 0;
  }
  dv_txlen = (unsigned char)n;
}

/* The name as the C64 types it: the host's small letters are PETSCII's
 * unshifted capitals, its capitals the shifted ones. */
static unsigned char set_name(const char* text) {
  unsigned char n = 0;
  unsigned char c;
  if (strlen(text) > 255) return 0;
  while ((c = (unsigned char)text[n]) != 0) {
    if (c >= 'a' && c <= 'z') {
      c -= 0x20;
    } else if (c >= 'A' && c <= 'Z') {
      c += 0x80;
    }
    dv_txbuf[n++] = c;
  }
  dv_txlen = n;
  return 1;
}

static int outcome(unsigned char status) {
  if (file_failed) return 1;
  return status == 0x80 ? 0 : status;
}

int main(int argc, char* argv[]) {
  const char* what = argc > 1 ? argv[1] : "";
  unsigned char status;
  dv_init();
  if (argc == 4 && strcmp(what, "load") == 0) {
    file = open(argv[3], O_WRONLY | O_CREAT | O_TRUNC);
    if (file < 0 || !set_name(argv[2])) return 1;
    dv_sink = sink;
    status = dv_load();
  } else if (argc == 3 && strcmp(what, "dir") == 0) {
    file = open(argv[2], O_WRONLY | O_CREAT | O_TRUNC);
    if (file < 0) return 1;
    set_name("$");
    dv_sink = sink;
    status = dv_load();
  } else if ((argc == 4 || argc == 5) && strcmp(what, "save") == 0) {
    file = open(argv[2], O_RDONLY);
    if (file < 0 || !set_name(argv[3])) return 1;
    if (argc == 5) sim_stop_at = (unsigned char)atoi(argv[4]);
    dv_source = source;
    status = dv_save();
  } else if (argc == 3 && strcmp(what, "cmd") == 0) {
    if (!set_name(argv[2])) return 2;
    status = dv_command();
  } else {
    return 2;
  }
  if (file > 0) close(file);
  return outcome(status);
}
