// What the C64 is served: the host tree, and inside it the disk images it can step
// into as if they were directories. "c:game.d64" enters an image, "c:.." leaves it
// for the directory that holds it, "c:/" goes back to the served root. While an
// image is entered every call goes to it; otherwise to the host volume.
#pragma once

#include <memory>
#include <string>

#include "storage/image_volume.h"
#include "storage/volume.h"

namespace dorvane {

class ServedVolume : public Volume {
 public:
  // Keeps a reference to `host`, which must outlive this volume.
  explicit ServedVolume(Volume& host) : host_(host) {}

  std::unique_ptr<DirSearch> FindFirst(const std::string& pattern, int& error) override;
  std::unique_ptr<ReadableFile> OpenRead(const DirEntry& entry) override;
  std::unique_ptr<PendingFile> CreateForSave(const std::string& name) override;
  bool Delete(const DirEntry& entry) override;
  bool Rename(const std::string& old_name, const std::string& new_name) override;
  // Enters an image when the path's last component is an image file, recognised by
  // its extension and its size; an image file of another size is an ordinary file.
  bool ChangeDir(const std::string& path) override;
  // "new.d64", ".d71" or ".d81" in a host directory creates a blank formatted image,
  // its disk name the base name in capitals and its ID "00".
  bool MakeDir(const std::string& path) override;
  std::string CurrentDirDisplay() const override;
  bool ReadDiskListing(DiskListing& listing) override;
  std::string TakeNotice() override;

  // The entered image, or nullptr.
  ImageVolume* Image() const { return image_.get(); }

 private:
  // Changes the host's directory or enters an image, from the host's current one.
  bool ChangeOnHost(const std::string& path);
  // The image named by `path`, read whole; nullptr when it names no image.
  std::unique_ptr<ImageVolume> ReadImage(const std::string& path, std::string& dir_part);

  Volume& host_;
  std::unique_ptr<ImageVolume> image_;
  std::string notice_;
};

}  // namespace dorvane
