// brenvo-settings: reads and writes the console's settings store, for the
// demo setup and for technicians pointing a workstation at other servers.
//   brenvo-settings [--dir FOLDER] get APP SECTION KEY
//   brenvo-settings [--dir FOLDER] set APP SECTION KEY VALUE
#include <iostream>
#include <string>
#include <vector>

#include "util/settings_store.h"

int main(int argc, char** argv) {
  std::vector<std::string> a(argv + 1, argv + argc);
  std::string dir;
  if (a.size() >= 2 && a[0] == "--dir") {
    dir = a[1];
    a.erase(a.begin(), a.begin() + 2);
  }
  auto store = brenvo::MakeIniSettingsStore(dir);
  if (a.size() == 4 && a[0] == "get") {
    std::cout << store->Get(a[1], a[2], a[3]) << "\n";
    return 0;
  }
  if (a.size() == 5 && a[0] == "set") {
    store->Save(a[1], a[2], a[3], a[4]);
    return store->Get(a[1], a[2], a[3], "\x01") == a[4] ? 0 : 1;
  }
  std::cerr << "usage: brenvo-settings [--dir FOLDER] get APP SECTION KEY\n"
               "       brenvo-settings [--dir FOLDER] set APP SECTION KEY VALUE\n";
  return 2;
}
