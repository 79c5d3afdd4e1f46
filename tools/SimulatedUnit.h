#pragma once
// Plays a Vardelio on the device side of a pseudo-terminal: stores programming frames and
// acknowledges them, answers the read request with its stored data, and misbehaves on demand.

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

namespace vardelio {

// A value the unit may store otherwise than it was sent.
enum class TUnitField { none, subscriber, mainPhone, backupPhone, terminalBlock, testReport };

struct TUnitBehaviour {
  bool silent = false;            // answers nothing
  int delayMs = 5;                // the unit's own pause before it answers
  bool missingSeparator = false;  // drops the first "T" of the data it sends back
  bool garbage = false;           // answers "SokZ" and noise instead
  bool timeOver = false;          // its programming window is closed: answers "SFZ"
  int hangUpAfter = -1;           // closes its side after this many requests (-1: never)
  TUnitField alterOnStore = TUnitField::none;  // stores this value otherwise than it was sent
  int alterOnly = 0;          // alters only the Nth programming frame (0: every one), as one faulty
                              // unit in a row of good ones
  bool silentOnRead = false;  // acknowledges programming but never answers the read request
  int byteMicros = 1000;      // pace of the line, about 9600 baud
};

class TSimulatedUnit {
 public:
  // Takes the master side of a pseudo-terminal; owns it from now on.
  TSimulatedUnit(int master, TUnitBehaviour behaviour);
  ~TSimulatedUnit();

  void Start();
  void Stop();
  // What it holds: subscriber, phones with their separators and the two digits.
  std::string Stored() const;
  void SetStored(const std::string& data);
  // Requests it has answered or ignored so far.
  int Requests() const { return requests_; }
  // Sends bytes of its own, as a unit speaking out of turn.
  void SendRaw(const std::string& bytes);
  // While kept open, a hang-up the behaviour asks for waits: only a test sees when the other
  // side has read the last answer, which the kernel drops at a hang-up.
  void KeepLineOpen(bool keep);

 private:
  static void Alter(std::string& frame, TUnitField field);
  void Run();
  void Handle(char byte);
  void Answer(const std::string& reply);
  void HangUp();

  int master_;
  int stop_;
  TUnitBehaviour behaviour_;
  mutable std::mutex mutex_;
  std::string stored_ = "1B2C12345678T87654321T01";
  std::string frame_;
  bool inFrame_ = false;
  std::atomic<int> requests_{0};
  int programmings_ = 0;
  std::condition_variable released_;
  bool keepOpen_ = false;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace vardelio
