#pragma once
// The desktop's clipboard, as the view models write to it.
#include <string>

class Pasteboard {
  public:
    static Pasteboard& general();

    // Replaces everything the clipboard held by the text, as plain text.
    void setString(const std::string& text);
};
