#pragma once

namespace pavo_test {

// A valid "videoparam.conf": every value differs, so tests see which one was used.
constexpr const char* valid_video_param =
    "teacher width : 640\n"
    "teacher height : 480\n"
    "teacher fps : 15\n"
    "teacher start bitrate : 600\n"
    "teacher min bitrate : 200\n"
    "teacher max bitrate : 1000\n"
    "student width : 320\n"
    "student height : 240\n"
    "student fps : 12\n"
    "student start bitrate : 300\n"
    "student min bitrate : 100\n"
    "student max bitrate : 500\n"
    "share width : 1280\n"
    "share height : 720\n"
    "share fps : 10\n"
    "share start bitrate : 800\n"
    "share min bitrate : 301\n"
    "share max bitrate : 1500\n";

}  // namespace pavo_test
