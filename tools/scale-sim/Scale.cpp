#include "Scale.h"

namespace {
const char kLineEnd[] = "\r\n";
const char kGarbledRecordAnswer[] = "Mr.";
const char kRefusedRecordAnswer[] = "Er";

bool EveryKth(int count, int k) { return k > 0 && count % k == 0; }
}  // namespace

std::optional<std::string> Acknowledgement(std::string_view command) {
  if (command == "SbP" || command == "SbU" || command == "SbS") return "Mb" + std::string(command.substr(2));
  if (command.starts_with("Sr")) return "Mr";
  if (command == "Se") return "Me";
  return std::nullopt;
}

TReaction TScaleSession::Receive(std::string_view command) {
  if (command.starts_with("Sr")) return ReceiveRecord();
  TReaction reaction;
  if (Silent()) return reaction;
  if (const std::optional<std::string> ack = Acknowledgement(command)) reaction.Answer = *ack + kLineEnd;
  return reaction;
}

TReaction TScaleSession::ReceiveRecord() {
  TReaction reaction;
  if (Silent()) return reaction;
  ++records_;
  if (!EveryKth(records_, faults_.DropEvery))
    reaction.Answer = std::string(EveryKth(records_, faults_.RefuseEvery)   ? kRefusedRecordAnswer
                                  : EveryKth(records_, faults_.GarbleEvery) ? kGarbledRecordAnswer
                                                                            : "Mr") +
                      kLineEnd;
  if (reaction.Answer && EveryKth(records_, faults_.DoubleEvery)) *reaction.Answer += *reaction.Answer;
  reaction.Repeat = reaction.Answer && EveryKth(records_, faults_.RepeatEvery);
  if (records_ == faults_.FloodBefore) reaction.FloodBytes = faults_.FloodBytes;
  reaction.CloseLink = faults_.CloseAfter > 0 && records_ == faults_.CloseAfter;
  return reaction;
}
