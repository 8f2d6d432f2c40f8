// Take, stamp and backup names from any list entry, take name and numbers.
// Each name must keep its documented shape: the right ending, bounded parts,
// and a backup's work file exactly as long as the backup (it has to fit
// wherever the backup does).
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "wavfile/take_names.h"
#include "fuzz_check.h"
#include "wavfile/take_files.h"

namespace {

std::string_view BaseOf(std::string_view entry) { return entry.substr(0, entry.find('.')); }

void CheckTakeName(std::string_view entry, std::string_view takeName, int channel,
                   std::int64_t take, std::int64_t punch) {
  const std::string stamp = punch != 0 ? "_stp_" + std::to_string(punch) : "";
  const std::string numbered = sondrel::TakeFileName(entry, channel, take, punch, false, takeName);
  FUZZ_CHECK(numbered == "audio_ch_" + std::to_string(channel) + "_" + std::to_string(take) +
                             stamp + ".wav");

  const std::string preset = sondrel::TakeFileName(entry, channel, take, punch, true, takeName);
  const std::string base = sondrel::BoundedTakeNamePart(BaseOf(entry));
  const std::string part = sondrel::BoundedTakeNamePart(takeName);
  FUZZ_CHECK(base.size() <= sondrel::kMaxTakeNamePart && part.size() <= sondrel::kMaxTakeNamePart);
  FUZZ_CHECK(preset == base + "_" + part + stamp + ".wav");
}

void CheckStampNames(std::string_view entry, std::int64_t stamp) {
  const std::string stamped = sondrel::StampedFileName(entry, stamp);
  FUZZ_CHECK(stamped == std::string(BaseOf(entry)) + "_stp_" + std::to_string(stamp) + ".wav");
  const std::string unstamped = sondrel::UnstampedFileName(stamped);
  if (!stamped.empty() && stamped.front() == '-') {
    FUZZ_CHECK(unstamped.empty());
    return;
  }
  // The stamp comes off again, and with it anything after an earlier "_stp".
  const std::string_view base = BaseOf(entry);
  FUZZ_CHECK(unstamped == std::string(base.substr(0, base.find("_stp"))) + ".wav");
  const std::string plain = sondrel::UnstampedFileName(entry);
  const bool namesAFile = !entry.empty() && entry.front() != '-';
  FUZZ_CHECK(plain.empty() == (!namesAFile || entry.find("_stp") == std::string_view::npos));
}

void CheckBackupNames(std::string_view path, std::int64_t stamp) {
  const std::string backup = sondrel::BackupFileName(stamp, path, ".wav");
  const std::string work = sondrel::BackupFileName(stamp, path, ".tmp");
  FUZZ_CHECK(backup.size() == work.size());
  FUZZ_CHECK(backup == std::string(BaseOf(path)) + "_bkup_" +
                           std::to_string(static_cast<std::int32_t>(stamp)) + ".wav");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const std::string entry = input.ConsumeRandomLengthString(512);
  const std::string takeName = input.ConsumeRandomLengthString(512);
  const int channel = input.ConsumeIntegral<int>();
  const auto take = input.ConsumeIntegral<std::int64_t>();
  const auto punch = input.ConsumeIntegral<std::int64_t>();
  CheckTakeName(entry, takeName, channel, take, punch);
  CheckStampNames(entry, punch);
  CheckBackupNames(entry, take);
  return 0;
}
