#pragma once
// What the simulated scale answers to each command, with the faults chosen for a test.

#include <optional>
#include <string>
#include <string_view>

struct TFaults {
  int GarbleEvery = 0;  // every k-th record is answered with a wrong line
  int DropEvery = 0;    // every k-th record gets no answer
  int RefuseEvery = 0;  // every k-th record is answered "Er"
  int CloseAfter = 0;   // the link closes once the k-th record has been answered
  int SilentAfter = 0;  // once the k-th record has been answered, nothing more is
  int DoubleEvery = 0;  // every k-th record's answer goes out twice in one write
  int RepeatEvery = 0;  // every k-th record's answer goes out again, RepeatGapMs later, on its own
  int RepeatGapMs = 20;
  int FloodBefore = 0;  // the k-th record's answer follows FloodBytes of text without a line feed
  int FloodBytes = 0;
  int DelayMs = 0;      // each answer leaves this long after its command arrived
  bool Split = false;   // answers go out one byte per write
  int SplitGapMs = 2;   // pause between the single bytes of a split answer
};

struct TReaction {
  std::optional<std::string> Answer;  // the answer line with its CR LF
  int FloodBytes = 0;                  // text without a line feed that goes out before the answer
  bool CloseLink = false;
  bool Repeat = false;  // the answer goes out once more, on its own, a little later
};

// One link's scale: counts the records that came over that link.
class TScaleSession {
 public:
  explicit TScaleSession(const TFaults& faults) : faults_(faults) {}
  TReaction Receive(std::string_view command);

 private:
  TReaction ReceiveRecord();
  bool Silent() const { return faults_.SilentAfter > 0 && records_ >= faults_.SilentAfter; }

  const TFaults& faults_;
  int records_ = 0;
};

// "MbP" for "SbP" and so on; none for a command the scale does not know.
std::optional<std::string> Acknowledgement(std::string_view command);
