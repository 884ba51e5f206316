#pragma once
// One sender per scale: an exclusive lock for a scale key, held by whichever program on this
// machine talks to that scale, from before its link opens to the end of its transfer.

#include <string>

// Where the locks are: /run/lock/scaledb/ (made for every user when missing), else
// $XDG_RUNTIME_DIR/scaledb/; SCALEDB_LOCK_DIR names another. With a trailing '/'.
std::string LockDirectory();

class TScaleLock {
 public:
  TScaleLock() = default;
  ~TScaleLock();
  TScaleLock(const TScaleLock&) = delete;
  TScaleLock& operator=(const TScaleLock&) = delete;

  struct TOutcome {
    // Nothing may be sent: another sender holds it, or no descriptor is left for it.
    bool Refused = false;
    // Refused since another sender holds it.
    bool Busy = false;
    // "busy: another sender (pid 4711, scaledb-send) is sending to this scale", "too many open
    // files: ...", or why no lock could be taken at all (the transfer goes on without one); empty
    // when it is held.
    std::string Text;
  };
  // Takes the lock of `key` for `program` without waiting; a lock already held is released first.
  TOutcome Take(const std::string& key, const std::string& program);
  void Release();
  bool Held() const { return fd_ >= 0; }
  const std::string& Key() const { return key_; }

 private:
  int fd_ = -1;
  std::string key_;
};

// The lock file's name of a key: the key with every byte but letters, digits, '.', '-' and '_'
// written as %XX.
std::string LockFileName(const std::string& key);
