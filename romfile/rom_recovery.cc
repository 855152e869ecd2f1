#include "rom_recovery.h"

#include <cerrno>
#include <cstring>
#include <string>

#include "console.h"
#include "file_lock.h"
#include "files.h"
#include "interrupts.h"
#include "rom_journal.h"

namespace {

// How a recovery went.
enum class Recovered { nothing, put_back, failed };

// Prints `text` on standard error as `tool`'s, or as zenpo's when it is null.
void say(const char* tool, const std::string& text) {
  if (tool) {
    report_tool_error(tool, text);
    return;
  }
  (void)std::fflush(stdout);
  (void)std::fprintf(stderr, "%s\n", text.c_str());
}

// Says that the image `name` cannot be put back from `path`, for errno.
Recovered cannot_put_back(const char* tool, const char* name, const std::string& path) {
  std::string reason = std::strerror(errno);
  say(tool, tool ? std::string(name) + ": cannot put it back from " + path + ": " + reason
                 : "Failed to put back " + std::string(name) + " from " + path + ": " + reason);
  return Recovered::failed;
}

// True when a journal is there, or something of its name that cannot be looked at.
bool journal_left(const std::string& path) {
  FILE* journal = open_for_reading(path.c_str());
  if (journal) (void)std::fclose(journal);
  return journal != nullptr || errno != ENOENT;
}

// Puts the image `name`, open for update as `rom` and locked for this
// process alone, back from the journal beside it, when there is one.
Recovered recover_image(FILE* rom, const char* name, const char* tool) {
  std::string path = journal_name(name);
  FILE* journal = open_for_reading(path.c_str());
  if (!journal && errno == ENOENT) return Recovered::nothing;  // another run put it back
  if (!journal) return cannot_put_back(tool, name, path);
  JournalHead head;
  std::string reason;
  JournalState state = check_journal(journal, regular_file_size(journal), name,
                                     regular_file_size(rom), head, reason);
  if (state == JournalState::refused) {
    (void)std::fclose(journal);  // read only: a failed close loses nothing
    say(tool, path + ": not applied to " + name + ": " + reason);
    return Recovered::failed;
  }
  // An interrupt waits until the image is whole and the journal gone.
  hold_interrupts();
  bool applied = state == JournalState::unfinished || apply_journal(journal, head, rom);
  if (!applied) (void)std::fclose(journal);
  bool done = applied && give_up_journal(journal, path.c_str());
  int failure = errno;
  release_interrupts();
  errno = failure;
  if (!done) return cannot_put_back(tool, name, path);
  if (state == JournalState::unfinished) return Recovered::nothing;
  say(nullptr, std::string(name) + ": " + kPutBack);
  return Recovered::put_back;
}

}  // namespace

bool lock_and_recover(FILE* rom, const char* name, bool exclusive, const char* tool) {
  std::string path = journal_name(name);
  for (;;) {
    bool locked = lock_file(rom, exclusive, name);
    // Under the lock a journal is never that of a run still going.
    if (!journal_left(path)) return true;
    if (exclusive) return recover_image(rom, name, tool) != Recovered::failed;
    // A reader puts the image back through a file of its own, open for
    // update and locked for itself alone, then takes its shared lock again.
    if (locked) unlock_file(rom);
    FILE* image = open_for_update(name);
    if (!image) return cannot_put_back(tool, name, path) != Recovered::failed;
    (void)lock_file(image, true, name);
    Recovered recovered = recover_image(image, name, tool);
    (void)std::fclose(image);  // synced: a failed close loses nothing
    if (recovered == Recovered::failed) return false;
  }
}
