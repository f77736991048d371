#include "storage/listed_form.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>

#include "formats/ascii_case.h"
#include "formats/p00_file.h"
#include "formats/petscii_names.h"
#include "platform/sys_calls.h"
#include "platform/unique_fd.h"
#include "storage/alternate_names.h"

namespace dorvane {
namespace {

// The header of the container `name`, opened with `flags`; the descriptor stays
// open in `fd` for a caller that writes. Links are not followed, and O_NONBLOCK
// keeps a FIFO from holding the server up; anything but a regular file is refused.
bool ReadHeader(int dir, const std::string& name, int flags, UniqueFd& fd, P00Header& header,
                std::array<std::uint8_t, P00HeaderSize>* raw = nullptr) {
  fd.Reset(sys::OpenAt(dir, name.c_str(), flags | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (!fd.Valid()) return false;
  struct stat st;
  if (sys::Stat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  std::array<std::uint8_t, P00HeaderSize> bytes{};
  ++sys::CallCount();
  if (pread(fd.Get(), bytes.data(), bytes.size(), 0) != static_cast<ssize_t>(bytes.size())) {
    return false;
  }
  const std::optional<P00Header> parsed = ParseP00Header(bytes);
  if (!parsed) return false;
  header = *parsed;
  if (raw != nullptr) *raw = bytes;
  return true;
}

}  // namespace

ListedForm PlainForm(const std::string& name) {
  ListedForm form;
  if (ReadsAsItself(name)) return form;
  std::string listed = HostNameToPetscii(name);
  if (listed != name) form.Name = std::move(listed);
  return form;
}

ListedForm ReadListedForm(int dir, const std::string& name) {
  const std::optional<CbmFileType> type = P00TypeOfName(name);
  if (!type) return PlainForm(name);
  UniqueFd fd;
  P00Header header;
  if (!ReadHeader(dir, name, O_RDONLY, fd, header)) return PlainForm(name);
  ListedForm form;
  form.Name = header.Name;
  form.Type = *type;
  form.HeaderSize = P00HeaderSize;
  form.RecordSize = header.RecordSize;
  return form;
}

bool ListsByAlternate(std::string_view name, const ListedForm& form) {
  const std::string_view listed = form.Name.empty() ? name : std::string_view(form.Name);
  if (NeedsAlternateName(listed)) return true;
  if (form.Name.empty()) return false;  // lists as its own host name
  if (form.HeaderSize == 0) return HoldsCharacterWithoutPetscii(name);
  return listed.find_first_of("/$") != std::string_view::npos ||
         listed.find("..") != std::string_view::npos;
}

bool ReadContainerHeader(int dir, const std::string& name,
                         std::array<std::uint8_t, P00HeaderSize>& bytes) {
  if (!P00TypeOfName(name)) return false;
  UniqueFd fd;
  P00Header header;
  return ReadHeader(dir, name, O_RDONLY, fd, header, &bytes);
}

bool RenameInsideContainer(int dir, const std::string& name, const std::string& c64_name) {
  if (c64_name.empty() || c64_name.size() > P00NameSize) return false;
  if (!P00TypeOfName(name)) return false;
  UniqueFd fd;
  P00Header header;
  if (!ReadHeader(dir, name, O_RDWR, fd, header)) return false;
  header.Name = c64_name;
  for (char& c : header.Name) c = static_cast<char>(UpperAscii(static_cast<unsigned char>(c)));
  const std::array<std::uint8_t, P00HeaderSize> bytes = MakeP00Header(header);
  ++sys::CallCount();
  // One write of 26 bytes at the start: the data after the header is never touched.
  return pwrite(fd.Get(), bytes.data(), bytes.size(), 0) == static_cast<ssize_t>(bytes.size());
}

}  // namespace dorvane
