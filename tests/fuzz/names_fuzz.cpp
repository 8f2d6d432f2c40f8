// Take, stamp and backup names from any list entry, take name and numbers keep their documented shape: the right
// ending, bounded parts, and a work file exactly as long as its backup (it has to fit wherever that does).
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "wavfile/take_files.h"
#include "wavfile/take_names.h"

namespace {

std::string BaseOf(std::string_view entry) { return std::string(entry.substr(0, entry.find('.'))); }

void CheckTakeNames(std::string_view entry, std::string_view takeName, int channel, std::int64_t take,
                    std::int64_t punch) {
  const std::string stamp = punch != 0 ? "_stp_" + std::to_string(punch) : "";
  FUZZ_CHECK(sondrel::TakeFileName(entry, channel, take, punch, false, takeName) ==
             "audio_ch_" + std::to_string(channel) + "_" + std::to_string(take) + stamp + ".wav");
  const std::string base = sondrel::BoundedTakeNamePart(BaseOf(entry));
  const std::string part = sondrel::BoundedTakeNamePart(takeName);
  FUZZ_CHECK(base.size() <= sondrel::kMaxTakeNamePart && part.size() <= sondrel::kMaxTakeNamePart);
  FUZZ_CHECK(sondrel::TakeFileName(entry, channel, take, punch, true, takeName) == base + "_" + part + stamp + ".wav");
}

void CheckStampNames(std::string_view entry, std::int64_t stamp) {
  const std::string stamped = sondrel::StampedFileName(entry, stamp);
  FUZZ_CHECK(stamped == BaseOf(entry) + "_stp_" + std::to_string(stamp) + ".wav");
  // The stamp comes off again, and with it anything after an earlier "_stp"; a name starting with '-' names no file.
  const std::string base = BaseOf(entry);
  const bool namesAFile = !stamped.empty() && stamped.front() != '-';
  FUZZ_CHECK(sondrel::UnstampedFileName(stamped) == (namesAFile ? base.substr(0, base.find("_stp")) + ".wav" : ""));
  FUZZ_CHECK(sondrel::UnstampedFileName(entry).empty() ==
             (!namesAFile || entry.find("_stp") == std::string_view::npos));
}

void CheckBackupNames(std::string_view path, std::int64_t stamp) {
  const std::string backup = sondrel::BackupFileName(stamp, path, ".wav");
  FUZZ_CHECK(backup.size() == sondrel::BackupFileName(stamp, path, ".tmp").size());
  FUZZ_CHECK(backup == BaseOf(path) + "_bkup_" + std::to_string(static_cast<std::int32_t>(stamp)) + ".wav");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const std::string entry = input.ConsumeRandomLengthString(512);
  const std::string takeName = input.ConsumeRandomLengthString(512);
  const int channel = input.ConsumeIntegral<int>();
  const auto take = input.ConsumeIntegral<std::int64_t>();
  const auto punch = input.ConsumeIntegral<std::int64_t>();
  CheckTakeNames(entry, takeName, channel, take, punch);
  CheckStampNames(entry, punch);
  CheckBackupNames(entry, take);
  return 0;
}
