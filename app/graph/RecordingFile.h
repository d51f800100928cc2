// Names and places of the recorded AVI files.
#pragma once

#include <ctime>
#include <string>

namespace quell {

// "<year>年<MM>月<DD>日(<weekday>)<hh>時<mm>分.avi" from a local time.
std::string RecordingFileName(const std::tm& localTime);

// The path of a new recording in `folder` for `localTime`. A name that is
// taken gets " (2)", " (3)" ... before ".avi", so that a second recording
// in the same minute never overwrites the first.
std::string NewRecordingPath(const std::string& folder, const std::tm& localTime);

// Makes sure `folder`/`name` exists as a folder; true when it does.
bool EnsureFolder(const std::string& folder, const std::string& name);

}  // namespace quell
