// Real write failures from the operating system: a child process runs with a
// file size limit (RLIMIT_FSIZE) and SIGXFSZ ignored, so a write that would
// grow a file past the limit stops short or fails with EFBIG. The child
// checks its engine after each refused call and sends back what it holds;
// the parent reopens the files and must find exactly that.

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <string>

#include "reliability_support.h"

namespace mero::test {
namespace {

// Runs body in a child; body returns problems ("" when none) and the child
// sends them and the engine's final snapshot through a pipe.
struct ChildReport {
  int status = -1;
  std::string problems;
  std::string finalState;
};

ChildReport runLimited(const std::function<std::string(std::string& finalState)>& body) {
  int fds[2];
  if (pipe(fds) != 0) throw std::runtime_error("pipe failed");
  ChildReport report;
  report.status = runInChild([&] {
    close(fds[0]);
    std::signal(SIGXFSZ, SIG_IGN);
    std::string finalState;
    const std::string problems = body(finalState);
    const std::string message = problems + '\n' + finalState;
    for (size_t done = 0; done < message.size();) {
      const ssize_t n = write(fds[1], message.data() + done, message.size() - done);
      if (n <= 0) _Exit(4);
      done += static_cast<size_t>(n);
    }
    close(fds[1]);
  });
  close(fds[1]);
  std::string all;
  char buffer[4096];
  for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) > 0;) all.append(buffer, static_cast<size_t>(n));
  close(fds[0]);
  const size_t newline = all.find('\n');
  report.problems = all.substr(0, newline);
  report.finalState = newline == std::string::npos ? "" : all.substr(newline + 1);
  return report;
}

void limitFileSize(rlim_t bytes) {
  rlimit limit{};
  getrlimit(RLIMIT_FSIZE, &limit);
  limit.rlim_cur = bytes;
  setrlimit(RLIMIT_FSIZE, &limit);
}

void liftFileSizeLimit() {
  rlimit limit{};
  getrlimit(RLIMIT_FSIZE, &limit);
  limit.rlim_cur = limit.rlim_max;
  setrlimit(RLIMIT_FSIZE, &limit);
}

// Appends until the data file is full. Each limit cuts the image that does
// not fit at a different byte; the partial image must never be taken for a
// record, and the next append after the limit is lifted lands behind it.
TEST(FileSizeLimit, DataFileFullRefusesAppendsAndMovesButNotInPlaceUpdates) {
  int refused = 0, acknowledged = 0;
  for (int cut = 0; cut < 40; cut += 7) {
    SCOPED_TRACE("limit " + std::to_string(cut) + " bytes into the data file's free room");
    ScratchDir dir;
    const std::string base = dir.base("db");
    createTestDatabase(base, 3);
    const ChildReport report = runLimited([&](std::string& finalState) -> std::string {
      std::unique_ptr<Database> db = openTestDatabase(base);
      Snapshot model = snapshotOf(*db);
      limitFileSize(static_cast<rlim_t>(db->dataFileSize() + 100 + cut));
      std::string problems;
      for (int i = 0; i < 10; ++i) {
        const std::vector<std::string> values = {"r" + std::to_string(i), "Bergen", "thirty bytes of a note here"};
        const int64_t end = db->dataFileSize();
        const WriteStatus status = db->write(valuesOf(values));
        if (status == WriteStatus::appended) model.records.push_back({static_cast<int32_t>(end), values});
        else if (status != WriteStatus::notStored) problems += "unexpected status; ";
        if (!(snapshotOf(*db) == model)) problems += "engine changed by a refused append; ";
      }
      // Growing a record needs room at the end of the data file; rewriting it in place does not.
      if (db->updateRecord(db->getPos("k0"), valuesOf({"k0", "a city too long to fit", "and a long note"})))
        problems += "a moved update was acknowledged past the limit; ";
      if (!(snapshotOf(*db) == model)) problems += "engine changed by a refused update; ";
      if (!db->updateRecord(db->getPos("k1"), valuesOf({"k1", "CITY1", "NOTE 1"})))
        problems += "an in-place update was refused; ";
      else
        model.records[1].values = {"k1", "CITY1", "NOTE 1"};
      liftFileSizeLimit();
      const int64_t end = db->dataFileSize();
      if (db->write(valuesOf({"lifted", "Tromso", "after the limit"})) != WriteStatus::appended)
        problems += "append refused after the limit was lifted; ";
      else
        model.records.push_back({static_cast<int32_t>(end), {"lifted", "Tromso", "after the limit"}});
      if (!(snapshotOf(*db) == model)) problems += "engine differs from the acknowledged calls; ";
      problems += inconsistencies(*db);
      finalState = snapshotOf(*db).describe();
      return problems;
    });
    ASSERT_EQ(report.status, 0);
    EXPECT_EQ(report.problems, "");
    const std::optional<Snapshot> reopened = reopenSnapshot(base);
    ASSERT_TRUE(reopened);
    EXPECT_EQ(reopened->describe(), report.finalState);
    // 3 set-up records, the appends that fitted, and the one after the limit.
    const int fitted = static_cast<int>(reopened->records.size()) - 4;
    acknowledged += fitted;
    refused += 10 - fitted + 1;
  }
  std::printf("[figures] file size limit, data file: %d appends acknowledged, %d appends and moves refused, 0 lost\n",
              acknowledged, refused);
}

// With no fields a record image is 4 bytes and the index file is always 4
// bytes longer than the data file, so a limit can let the image through and
// stop the index entry: the record must not become live.
TEST(FileSizeLimit, IndexFileFullRefusesTheAppendAfterItsImageWasWritten) {
  ScratchDir dir;
  const std::string base = dir.base("db");
  const ChildReport report = runLimited([&](std::string& finalState) -> std::string {
    std::unique_ptr<Database> db = openTestDatabase(base);  // no schema: no fields
    std::string problems;
    for (int i = 0; i < 10; ++i)
      if (db->write(FieldValues()) != WriteStatus::appended) problems += "set-up append refused; ";
    const Snapshot model = snapshotOf(*db);
    limitFileSize(static_cast<rlim_t>(db->dataFileSize() + 4));  // room for one image, no entry
    if (db->write(FieldValues()) != WriteStatus::notStored) problems += "index entry past the limit acknowledged; ";
    if (db->write(FieldValues()) != WriteStatus::notStored) problems += "image past the limit acknowledged; ";
    if (!(snapshotOf(*db) == model)) problems += "engine changed by refused appends; ";
    liftFileSizeLimit();
    if (db->write(FieldValues()) != WriteStatus::appended) problems += "append refused after the limit was lifted; ";
    if (db->records().positions().back() != 44) problems += "the new record is not behind the orphan image; ";
    problems += inconsistencies(*db);
    finalState = snapshotOf(*db).describe();
    return problems;
  });
  ASSERT_EQ(report.status, 0);
  EXPECT_EQ(report.problems, "");
  const std::optional<Snapshot> reopened = reopenSnapshot(base);
  ASSERT_TRUE(reopened);
  EXPECT_EQ(reopened->describe(), report.finalState);
  EXPECT_EQ(reopened->records.size(), 11u);
}

}  // namespace
}  // namespace mero::test
