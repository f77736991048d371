/* The cartridge's receive loop on sim65: the ACIA stands in RAM at $8000 with
 * "receive register full" always set, so every byte is already waiting, and
 * `cycles.prg N` receives N packets of 255 payload bytes and their CRC byte.
 * sim65 -c counts the cycles; the difference between N and 0 packets, divided by
 * the bytes, is the loop's cost per byte. */
#include <stdlib.h>

void dv_init(void);
void __fastcall__ acia_base(unsigned char page);
void __fastcall__ dv_rxpayload(unsigned char count);

int main(int argc, char* argv[]) {
  unsigned n = argc > 1 ? (unsigned)atoi(argv[1]) : 0;
  dv_init();
  acia_base(0x80);
  *(unsigned char*)0x8001 = 0x08;
  while (n-- > 0) dv_rxpayload(255);
  return 0;
}
