// Placeholder: the headless server's front end is being built.
#include <cstdio>

int main() {
  std::fputs("dorvaned: not built yet\n", stderr);
  return 2;
}
