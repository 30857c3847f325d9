#include "Text.h"

#include <cerrno>
#include <cstring>

namespace vela2cam {

std::string Trim(const std::string& text) {
    size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return "";
    size_t last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

std::string ReportField(const std::string& report, const std::string& name) {
    size_t start = 0;
    while (start < report.size()) {
        size_t end = report.find('\n', start);
        if (end == std::string::npos) end = report.size();
        std::string line = report.substr(start, end - start);
        size_t equals = line.find('=');
        if (equals != std::string::npos && Trim(line.substr(0, equals)) == name)
            return Trim(line.substr(equals + 1));
        start = end + 1;
    }
    return "";
}

std::string FileErrorText(const std::string& what, const std::string& path, int error) {
    if (error == EEXIST) return path + " exists already";
    return what + " " + path + ": " + std::strerror(error);
}

}  // namespace vela2cam
