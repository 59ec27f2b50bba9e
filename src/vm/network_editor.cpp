#include "vm/network_editor.h"

namespace velmora::vm {

std::string networkEditorFromOpenCommand(const char* data, std::size_t length) {
    char quote = 0;
    char quoteAtSeparator = 0;
    std::size_t keep = 0; // characters kept: up to and including the last separator
    for (std::size_t i = 0; i < length && data[i] != '\0'; ++i) {
        const char c = data[i];
        if (quote == 0 && c == ' ') {
            break;
        }
        if (c == '\\' || c == '/') {
            keep = i + 1;
            quoteAtSeparator = quote;
        } else if (quote == 0 && (c == '"' || c == '\'')) {
            quote = c;
        } else if (quote != 0 && c == quote) {
            quote = 0;
        }
    }
    std::string command(data, keep);
    command += "vmnetcfg.exe";
    if (quoteAtSeparator != 0) {
        command += quoteAtSeparator;
    }
    return command;
}

} // namespace velmora::vm
