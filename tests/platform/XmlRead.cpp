// Reads each file named on the command line as the control reads a load document and prints
// one line per file: "1 READING PATH" when it loads, "0 READING PATH" when it is refused,
// READING being how its bytes are read (utf-8, windows-1252 or declared). For comparing the
// reader with other XML parsers over many documents (scripts/xml-conformance).

#include "platform/XmlDocument.h"

#include <fstream>
#include <iostream>
#include <iterator>
#include <string>

int main(int argc, char** argv) {
    using Reading = tavik::platform::DocumentEncoding::Reading;
    tavik::platform::XmlDocument document;
    for (int i = 1; i < argc; ++i) {
        std::ifstream file(argv[i], std::ios::binary);
        std::string text{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
        const Reading reading = tavik::platform::documentEncoding(text).reading;
        std::cout << (document.loadXml(std::move(text)) ? '1' : '0') << ' '
                  << (reading == Reading::Utf8          ? "utf-8"
                      : reading == Reading::Windows1252 ? "windows-1252"
                                                        : "declared")
                  << ' ' << argv[i] << '\n';
    }
}
