// Keeping a database file whole on its own: when the log beside it is
// merged into it, and in which journal mode it is left (file_state.cc says
// why).

#ifndef KAV_PLATFORM_DAO_INTERNAL_FILE_STATE_H_
#define KAV_PLATFORM_DAO_INTERNAL_FILE_STATE_H_

#include <sqlite3.h>
#include <sys/types.h>

#include <string>

namespace dao::internal {

// Right after a connection opens, before it reads: no checkpoint when it
// closes, and none after its commits until it writes.
void PrepareConnection(sqlite3* conn);
// Whether a connection of this process writes the file `device`, `inode`.
// While one does, no code of ours may open the file itself: closing that
// descriptor would drop the locks SQLite holds on the file for the whole
// process, and another process could then take the file from under it.
bool WrittenHere(dev_t device, ino_t inode);
// How long the engine waits for a lock that another process holds: the
// busy timeout of every connection, and the wait for the lock that keeps
// other processes out of a file it writes.
constexpr int kLockWaitMilliseconds = 2000;
// For the box of a file refused at open: a sentence naming the log that
// lies beside it with changes not merged into it, or nothing.
std::string LeftLogNote(const std::string& path);
// A connection that passed the checks at open and may write:
// synchronous=NORMAL, and checkpoints only with the room for them taken.
void StartWriting(sqlite3* conn);
// Before a write outside any transaction: the first puts the file in WAL
// mode, so that a run that writes nothing leaves the file as it was, and
// keeps other processes out of the file until FlushWrittenFiles.  Where
// another process has the file open all the time the engine waits for a
// lock, it raises the lock error (3260) and the file is as it was.
void BeforeWrite(sqlite3* conn);
// Before such a connection closes: where it is the last of this process on
// its file, every committed change is merged into the file and the file
// goes back to rollback-journal mode.
void FinishWriting(sqlite3* conn);
// Merges every committed change of every file written in this process into
// the file itself, synced, and puts the file back in rollback-journal mode
// with nothing beside it, open to other processes again.  Raises when the
// merge cannot be done (no room on the disk, another process holding an
// older state): the file then keeps the whole state it holds.
void FlushWrittenFiles();

}  // namespace dao::internal

#endif  // KAV_PLATFORM_DAO_INTERNAL_FILE_STATE_H_
