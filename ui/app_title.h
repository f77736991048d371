// The application's title, the text of its task-bar entry until the server first
// shows a status: the program file's name without directory and extension,
// capitalised ("Dorvane" for build/bin/dorvane).
#pragma once

#include <string>

namespace dorvane {

std::string ApplicationTitleFor(const std::string& program_path);

}  // namespace dorvane
