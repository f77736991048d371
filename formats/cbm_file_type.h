// The file types a C64 directory shows beside each name.
#pragma once

#include <cstdint>
#include <string_view>

namespace dorvane {

enum class CbmFileType : std::uint8_t { Prg, Seq, Usr, Rel };

// The three letters the listing shows for a type.
constexpr std::string_view CbmFileTypeName(CbmFileType type) {
  switch (type) {
    case CbmFileType::Seq:
      return "SEQ";
    case CbmFileType::Usr:
      return "USR";
    case CbmFileType::Rel:
      return "REL";
    case CbmFileType::Prg:
      break;
  }
  return "PRG";
}

}  // namespace dorvane
