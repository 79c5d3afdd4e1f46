#pragma once
// The simulated unit on a pseudo-terminal of its own, set up by its own command-line switches,
// for the bench's tests.

#include <QTemporaryDir>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "PseudoTerminal.h"
#include "SimulatedUnit.h"
#include "UnitCommandLine.h"

namespace vardelio::test {

// Switches as vardelio-unit takes them ("--silent --delay 5"); nullptr when they are refused.
inline std::unique_ptr<TSimulatedUnit> StartUnit(const std::string& switches, std::string& device) {
  std::vector<std::string> words = {"vardelio-unit"};
  std::istringstream split(switches);
  for (std::string word; split >> word;)
    words.push_back(word);
  words.push_back("unused-link");
  std::vector<const char*> argv;
  for (const std::string& word : words)
    argv.push_back(word.c_str());
  TUnitCommandLine parsed;
  std::ostringstream out, errors;
  if (ParseUnitCommandLine(int(argv.size()), argv.data(), parsed, out, errors)) return nullptr;
  const int master = OpenPseudoTerminal(device);
  if (master < 0) return nullptr;
  auto unit = std::make_unique<TSimulatedUnit>(master, parsed.behaviour);
  unit->Start();
  return unit;
}

// A programming file's text.
inline std::string ProgrammingText(const std::string& subscriber, const std::string& main = "12,34",
                                   const std::string& backup = "#9",
                                   const std::string& block = "incendio",
                                   const std::string& report = "7-dias") {
  return "vardelio-programacion 1\nabonado=" + subscriber + "\ntelefono-principal=" + main +
         "\ntelefono-respaldo=" + backup + "\nbornera=" + block + "\ninforme-test=" + report + "\n";
}

}  // namespace vardelio::test
