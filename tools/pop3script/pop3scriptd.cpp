// Runs the scripted POP3 server by hand: one mailbox made of message files, served on 127.0.0.1
// until a line or the end of input arrives on stdin. Prints the port and, at the end, the
// transcript of received commands.
//
//   pop3scriptd [--port N] [--user U] [--pass P] [--packet BYTES] [--delay MS] [FILE...]
//
// Each FILE is a message (headers, an empty line, the body); its file name is its UIDL id.
#include "pop3script/ScriptedPop3Server.h"

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

namespace {

pw::test::MailMessage ReadMessage(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot read " + path);
    }
    std::ostringstream text;
    text << in.rdbuf();
    std::string all = text.str();
    pw::test::MailMessage m;
    std::size_t split = all.find("\r\n\r\n");
    std::size_t skip = 4;
    if (split == std::string::npos) {
        split = all.find("\n\n");
        skip = 2;
    }
    m.headers = all.substr(0, split);
    m.body = split == std::string::npos ? "" : all.substr(split + skip);
    std::size_t slash = path.find_last_of("/\\");
    m.uid = slash == std::string::npos ? path : path.substr(slash + 1);
    return m;
}

} // namespace

int main(int argc, char** argv) {
    try {
        pw::test::ScriptedPop3Server server;
        pw::test::Mailbox box{"user", "secret", {}};
        pw::test::SessionScript script;
        unsigned long port = 0;
        for (int i = 1; i < argc; ++i) {
            std::string arg = argv[i];
            bool hasValue = i + 1 < argc;
            if (arg == "--port" && hasValue) {
                port = std::strtoul(argv[++i], nullptr, 10);
            } else if (arg == "--user" && hasValue) {
                box.user = argv[++i];
            } else if (arg == "--pass" && hasValue) {
                box.password = argv[++i];
            } else if (arg == "--packet" && hasValue) {
                script.packetSize = std::strtoul(argv[++i], nullptr, 10);
            } else if (arg == "--delay" && hasValue) {
                script.replyDelayMs = std::atoi(argv[++i]);
            } else if (!arg.empty() && arg[0] == '-') {
                std::cerr << "usage: pop3scriptd [--port N] [--user U] [--pass P] "
                             "[--packet BYTES] [--delay MS] [FILE...]\n";
                return 2;
            } else {
                box.messages.push_back(ReadMessage(arg));
            }
        }
        if (port > 65535) {
            std::cerr << "pop3scriptd: bad port\n";
            return 2;
        }
        server.AddMailbox(box);
        server.SetScript(script);
        server.Start(static_cast<uint16_t>(port));
        std::cout << "listening on 127.0.0.1:" << server.Port() << std::endl;
        std::string line;
        std::getline(std::cin, line);
        server.Stop();
        for (const std::string& command : server.Transcript()) {
            std::cout << command << "\n";
        }
        return 0;
    } catch (const std::exception& e) {
        std::cerr << "pop3scriptd: " << e.what() << "\n";
        return 1;
    }
}
