// dorvane-mkd64 IMAGE PROGRAM: a blank D64 named "DORVANE" holding PROGRAM as a
// PRG file named after it (its base name without the extension), so that a C64
// with any disk drive can load the program once. Used by the build of c64/.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "formats/cbm_disk.h"
#include "formats/cbm_names.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "Usage: dorvane-mkd64 IMAGE PROGRAM\n");
    return 2;
  }
  std::ifstream in(argv[2], std::ios::binary);
  const std::vector<std::uint8_t> data((std::istreambuf_iterator<char>(in)),
                                       std::istreambuf_iterator<char>());
  dorvane::CbmName name{};
  if (!in.is_open() || data.empty() ||
      !dorvane::ToCbmName(std::filesystem::path(argv[2]).stem().string(), name)) {
    std::fprintf(stderr, "dorvane-mkd64: %s: cannot read it or name it\n", argv[2]);
    return 1;
  }
  dorvane::CbmDisk disk = dorvane::CbmDisk::Format(dorvane::DiskKind::D64, "DORVANE", "DV");
  if (!disk.WriteFile(name, dorvane::CbmPrg, data)) {
    std::fprintf(stderr, "dorvane-mkd64: %s does not fit on a disk\n", argv[2]);
    return 1;
  }
  std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(disk.Bytes().data()),
            static_cast<std::streamsize>(disk.Bytes().size()));
  out.close();
  if (!out) {
    std::fprintf(stderr, "dorvane-mkd64: cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
