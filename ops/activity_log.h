#pragma once
// The activity log: one time-stamped line per event, appended on a serial background queue and
// rotated to path + ".old" once the file has grown past its size limit.

#include <QString>
#include <QThreadPool>
#include <cstdint>
#include <string>

namespace sweepkin {

class ActivityLog {
  public:
    // `maxBytes`: a log strictly larger than this is rotated before the next line is written.
    ActivityLog(std::string logPath, std::uint64_t maxBytes);
    // Lines still queued are written before the log goes away.
    ~ActivityLog();

    ActivityLog(const ActivityLog&) = delete;
    ActivityLog& operator=(const ActivityLog&) = delete;

    // Copies the message to the queue "com.sweepkin.log" and returns at once; callable from any
    // thread. The time stamp is taken when the line is written.
    void logActivity(const QString& message);

    // Blocks until every line queued so far has been written (or dropped).
    void waitForIdle();

    const std::string& path() const { return logPath_; }

  private:
    std::string logPath_;
    std::uint64_t maxBytes_;
    QThreadPool queue_;
};

// The queue's work item: stamps the line "[yyyy-MM-dd HH:mm:ss] message\n" in local time, rotates
// the log when it is larger than `maxBytes`, and appends the line with a single write. Every
// file-system failure is swallowed; when the existing log cannot be opened for appending the line
// is dropped rather than replacing the file.
void appendLogLine(const std::string& logPath, std::uint64_t maxBytes, const QString& message);

}  // namespace sweepkin
