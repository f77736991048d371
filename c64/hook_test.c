/* The KERNAL hooks on sim65: sets the zero-page cells as the KERNAL's LOAD and
 * SAVE set them before they jump through their vectors, calls the hook, and
 * writes what it left.
 *
 *   load NAME DEVICE SA ADDR OUT     LOAD"NAME",DEVICE,SA with X/Y = ADDR (hex)
 *   verify NAME DEVICE SA ADDR OUT   the same as VERIFY
 *   save NAME DEVICE START END OUT   SAVE of START..END-1 (hex)
 *
 * Memory $4000-$CFFF holds byte i*7+3 at address $4000+i beforehand. OUT.txt gets
 * one line: "carry A end ST start searching loading saving passed" (numbers in
 * hex); after a load or verify OUT gets the memory from the start used up to the
 * end address. The hooks serve device 8; stdin/stdout are the line. */
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#define PEEK(a) (*(unsigned char*)(a))
#define POKE(a, v) (*(unsigned char*)(a) = (v))

extern unsigned char hook_a, hook_carry, passed;
extern unsigned hook_xy;
extern unsigned char k_calls[3];
void __fastcall__ call_load(unsigned char verify);
void call_save(void);
void dv_init(void);

static char name[256];

static void set_cells(const char* text, const char* device) {
  strcpy(name, text);
  POKE(0xB7, (unsigned char)strlen(name));
  POKE(0xBB, (unsigned)name & 0xFF);
  POKE(0xBC, (unsigned)name >> 8);
  POKE(0xBA, (unsigned char)atoi(device));
}

int main(int argc, char* argv[]) {
  static char path[200];
  unsigned start = 0;
  unsigned i;
  unsigned n;
  int out;
  FILE* report;
  if (argc != 7) return 2;
  dv_init();
  for (i = 0; i < 0x9000u; ++i) POKE(0x4000u + i, i * 7 + 3);
  set_cells(argv[2], argv[3]);
  if (strcmp(argv[1], "load") == 0 || strcmp(argv[1], "verify") == 0) {
    POKE(0xB9, (unsigned char)atoi(argv[4]));
    start = (unsigned)strtoul(argv[5], 0, 16);
    POKE(0xC3, start & 0xFF);
    POKE(0xC4, start >> 8);
    call_load(argv[1][0] == 'v');
    start = PEEK(0xC3) | (PEEK(0xC4) << 8);
    if (!hook_carry) {
      out = open(argv[6], O_WRONLY | O_CREAT | O_TRUNC);
      if (out < 0) return 1;
      for (i = start; i < hook_xy; i += n) {
        n = hook_xy - i < 0x1000 ? hook_xy - i : 0x1000;
        write(out, (void*)i, n);
      }
      close(out);
    }
  } else if (strcmp(argv[1], "save") == 0) {
    start = (unsigned)strtoul(argv[4], 0, 16);
    POKE(0xC1, start & 0xFF);
    POKE(0xC2, start >> 8);
    i = (unsigned)strtoul(argv[5], 0, 16);
    POKE(0xAE, i & 0xFF);
    POKE(0xAF, i >> 8);
    call_save();
    hook_xy = PEEK(0xAE) | (PEEK(0xAF) << 8);
  } else {
    return 2;
  }
  strcpy(path, argv[6]);
  strcat(path, ".txt");
  report = fopen(path, "w");
  if (!report) return 1;
  fprintf(report, "%x %x %x %x %x %x %x %x %x\n", hook_carry, hook_a, hook_xy, PEEK(0x90), start,
          k_calls[0], k_calls[1], k_calls[2], passed);
  fclose(report);
  return 0;
}
