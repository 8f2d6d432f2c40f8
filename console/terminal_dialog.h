// The user dialog over the terminal: every notice of the lower layers in
// the words the user sees, and their questions answered from standard
// input.
#pragma once

#include <string>

#include "core/user_dialog.h"

namespace sondrel {

// The text a notice prints, line ends included.
std::string NoticeText(const Notice& notice);

class TerminalDialog final : public UserDialog {
 public:
  // Prints the notice. A notice that ends the program throws ProgramExit
  // once it is printed.
  void Tell(const Notice& notice) override;
  void TellAndWaitForContinue(const Notice& notice) override;
  std::string Ask(const Notice& question) override;
};

}  // namespace sondrel
