// A build with SQLite: the dialogues' record kept in the archive file.
#include "archive/archive.h"
#include "record/dialogue_record.h"
#include "station/station.h"

namespace vestrel::station {
namespace {

// The archive with the record over it, owned together.
class KeptInArchive : public archive::ArchiveRecord {
 public:
  KeptInArchive(std::unique_ptr<archive::Archive> kept, std::function<std::string()> port_name)
      : archive::ArchiveRecord(*kept, std::move(port_name)), kept_(std::move(kept)) {}

 private:
  std::unique_ptr<archive::Archive> kept_;
};

}  // namespace

std::unique_ptr<MessageRecord> OpenArchiveRecord(const std::filesystem::path& file,
                                                 std::function<std::string()> port_name,
                                                 archive::Archive** archive) {
  auto kept = std::make_unique<archive::Archive>(file);
  *archive = kept.get();
  return std::make_unique<KeptInArchive>(std::move(kept), std::move(port_name));
}

}  // namespace vestrel::station
