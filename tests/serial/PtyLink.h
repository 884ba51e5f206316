#pragma once
// A pty whose slave is reachable as a COM name through a ports directory.

#include <string>

class TPtyLink {
 public:
  // Opens a pty and links `directory` + `name` to its slave.
  TPtyLink(const std::string& directory, const std::string& name);
  ~TPtyLink();
  TPtyLink(const TPtyLink&) = delete;
  TPtyLink& operator=(const TPtyLink&) = delete;

  const std::string& SlavePath() const { return slavePath_; }
  int Slave() const { return slave_; }
  int Master() const { return master_; }
  void Send(const std::string& bytes) const;
  // Closes the master, as a scale's adapter that is pulled out: the slave's reads and writes fail.
  void HangUp();
  // What arrived at the master within `timeoutMs`, stopping once `expected` bytes are there.
  std::string Receive(size_t expected, int timeoutMs = 5000) const;

 private:
  int master_ = -1;
  int slave_ = -1;
  std::string slavePath_;
  std::string link_;
};
