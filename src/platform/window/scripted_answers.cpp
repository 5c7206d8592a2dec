#include "platform/window/scripted_answers.h"

#include <cstdlib>
#include <fstream>

bool scripted_answer_take(const char* variable, size_t& next, std::string& line) {
  const char* file = std::getenv(variable);
  if (!file || !*file) return false;
  std::ifstream in(file);
  size_t index = 0;
  bool found = false;
  while (!found && std::getline(in, line)) found = index++ == next;
  ++next;
  if (!found) line.clear();
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return true;
}
