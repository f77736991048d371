// What a host entry is to the C64: the name it lists under and the type it lists
// with. A plain entry lists as its host name read through the PETSCII mapping; a
// P00 container (a regular file named *.P00, *.S07 and so on, whose header checks
// out) lists as the C64 name inside it, with the type its extension gives, and
// holds the C64 file's data after its header.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "formats/cbm_file_type.h"
#include "formats/p00_file.h"

namespace dorvane {

struct ListedForm {
  // PETSCII, before the listing's upper-casing and any alternate name; empty when
  // it is the host name byte for byte (a host name never is empty).
  std::string Name;
  CbmFileType Type = CbmFileType::Prg;
  std::uint32_t HeaderSize = 0;  // bytes before the C64 file's data; 0 for a plain entry
  std::uint8_t RecordSize = 0;   // a container's REL record size
};

// The form of the entry `name` of the directory `dir` (any descriptor of it,
// O_PATH included). Only a container's header is read: one open and one read, and
// a link, a FIFO or a device is never opened. A container that cannot be read, or
// whose header does not check out, is a plain entry.
ListedForm ReadListedForm(int dir, const std::string& name);

// The listed name of a plain entry: its host name through the PETSCII mapping.
ListedForm PlainForm(const std::string& name);

// The name an entry of host name `name` lists as, given its form.
inline const std::string& ListedNameOf(const std::string& name, const ListedForm& form) {
  return form.Name.empty() ? name : form.Name;
}

// Whether the entry `name` listed as `form` lists by an alternate name whatever its
// neighbours: when its listed name could not be typed back to load it. That is a
// name longer than 16 characters; a host name with a character PETSCII lacks, which
// lists as "?", the wildcard; and a container's C64 name that holds "/" (a path to
// the C64), "$" or "..".
bool ListsByAlternate(std::string_view name, const ListedForm& form);

// The 26 header bytes of the container `name` of `dir`, as they are on the host;
// false when it is no container (a link to one included).
bool ReadContainerHeader(int dir, const std::string& name,
                         std::array<std::uint8_t, P00HeaderSize>& bytes);

// Puts `c64_name` into the header of the container `name` of `dir`, keeping its
// record size: letters become the unshifted PETSCII letters a disk shows. False,
// leaving the file as it was, when the name does not fit (1 to 16 bytes), the file
// is no container or cannot be written.
bool RenameInsideContainer(int dir, const std::string& name, const std::string& c64_name);

}  // namespace dorvane
