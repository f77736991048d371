/* The "@" wedge on sim65: `wedge_test.prg >LINE OUT` types LINE (PETSCII, as the
 * screen editor gives it) in direct mode and writes to OUT what the wedge printed,
 * then "<BASIC>" when the line went on to BASIC. The ">" is there because sim65
 * reads an argument that starts with "@" as a file of arguments. The wedge serves
 * device 8; stdin/stdout are the line. */
#include <fcntl.h>
#include <string.h>
#include <unistd.h>

extern unsigned char k_buffer[89];
extern unsigned char screen[4096];
extern unsigned char* screen_end;
#pragma zpsym("screen_end")
extern unsigned char basic_took;
void call_wedge(void);
void dv_init(void);

/* BASIC's LINPRT: the number without a sign's space. */
void __fastcall__ sim_linprt(unsigned n) {
  static char digits[6];
  unsigned char i = sizeof digits;
  do {
    digits[--i] = (char)('0' + n % 10);
    n /= 10;
  } while (n != 0);
  while (i < sizeof digits) *screen_end++ = digits[i++];
}

int main(int argc, char* argv[]) {
  int out;
  if (argc != 3 || argv[1][0] != '>' || strlen(argv[1]) > sizeof k_buffer) return 2;
  dv_init();
  strcpy((char*)k_buffer, argv[1] + 1);
  screen_end = screen;
  call_wedge();
  if (basic_took) {
    memcpy(screen_end, "<BASIC>", 7);
    screen_end += 7;
  }
  out = open(argv[2], O_WRONLY | O_CREAT | O_TRUNC);
  if (out < 0) return 1;
  write(out, screen, screen_end - screen);
  close(out);
  return 0;
}
