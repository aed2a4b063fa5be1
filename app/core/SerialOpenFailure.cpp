#include "SerialOpenFailure.h"

#include <cerrno>
#include <cstring>

std::string SerialOpenFailureText(const std::string& Message, const std::string& Path, int Error,
                                  const std::string& Group) {
  std::string text = Message + " " + (Path.empty() ? "(nessuna porta indicata)" : Path);
  if (Error == 0) return text;
  text += ": ";
  text += std::strerror(Error);
  if (Error == EACCES || Error == EPERM) {
    const std::string group = Group.empty() ? "dialout" : Group;
    text += ". L'utente deve far parte del gruppo \"" + group +
            "\" che possiede il dispositivo (sudo usermod -aG " + group +
            " $USER, poi un nuovo accesso)";
  }
  return text;
}
