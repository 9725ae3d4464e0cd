// test_httpd DIR SECONDS: serves the files of DIR on 127.0.0.1 at a port the
// system picks, prints the port on stdout and ends by itself after SECONDS.
#include <httplib.h>

#include <chrono>
#include <cstdlib>
#include <iostream>
#include <thread>

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: test_httpd DIR SECONDS\n";
    return 2;
  }
  const int seconds = std::atoi(argv[2]);
  if (seconds <= 0 || seconds > 600) {
    std::cerr << "test_httpd: SECONDS must be 1..600\n";
    return 2;
  }
  httplib::Server server;
  server.set_keep_alive_timeout(1);
  if (!server.set_mount_point("/", argv[1])) {
    std::cerr << "test_httpd: cannot serve " << argv[1] << "\n";
    return 1;
  }
  const int port = server.bind_to_any_port("127.0.0.1");
  if (port <= 0) {
    std::cerr << "test_httpd: cannot bind\n";
    return 1;
  }
  std::cout << port << std::endl;
  std::thread stopper([&] {
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    server.stop();
  });
  stopper.detach();
  server.listen_after_bind();
  return 0;
}
