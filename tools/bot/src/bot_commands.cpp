#include "bot_commands.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <vector>

#include "bot_audio.h"
#include "bot_options.h"
#include "bot_output.h"

namespace bot {

namespace {

bool to_u32(const std::string& text, uint32_t* out) {
  if (text.empty() || text[0] == '-')
    return false;
  char* end = nullptr;
  errno = 0;
  const unsigned long long value = std::strtoull(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || value > 0xFFFFFFFFull)
    return false;
  *out = static_cast<uint32_t>(value);
  return true;
}

// The rest of the line after `words` words (for message text, blanks kept).
std::string rest_after(const std::string& line, int words) {
  std::size_t at = 0;
  for (int i = 0; i < words; ++i) {
    at = line.find_first_not_of(' ', at);
    at = line.find(' ', at);
    if (at == std::string::npos)
      return {};
  }
  return line.substr(at + 1);
}

// A message of `size` bytes that shows where it was cut: "0123456789" repeated.
std::string sized_text(uint32_t size) {
  std::string text(size, '0');
  for (uint32_t i = 0; i < size; ++i)
    text[i] = static_cast<char>('0' + i % 10);
  return text;
}

int send_text(Libpavo& library, const std::string& target, const std::string& text) {
  const auto* data = reinterpret_cast<const uint8_t*>(text.data());
  const auto size = static_cast<unsigned>(text.size());
  if (target == "*")
    return library.send_p2all_msg(data, size);
  uint32_t id = 0;
  return to_u32(target, &id) ? library.send_p2p_msg(id, data, size) : -1;
}

}  // namespace

std::string command_help() {
  return "commands: start | stop | state | classing | users | devices | frames | quit\n"
         "  send <user|*> <text>      peer message (text to the end of the line)\n"
         "  sendsize <user|*> <bytes> peer message of that many digits 0123456789...\n"
         "  open <kind> [user] | close <kind> [user]   kind: video audio screen doc or 1 2 4 32\n"
         "  subscribe <user> <kind> | unsubscribe <user> <kind>\n"
         "  dump <user> <kind> <file>  the newest picture of a stream as a PPM image\n"
         "  microphone <index|last> | speaker <index|last>   before open audio / the room audio\n"
         "  apply | cancel-apply | reply <user> <reply> | share-start | share-stop <user>\n"
         "  share-users | share-cancel <user> | tag-start | tag-stop <user> | tag-users";
}

command_result run_command(const std::string& line, Libpavo& library, bot_observer& observer,
                           uint32_t own_id) {
  std::istringstream in(line);
  std::vector<std::string> words;
  for (std::string w; in >> w;)
    words.push_back(w);
  if (words.empty())
    return command_result::done;
  const std::string& cmd = words[0];
  auto arg = [&](std::size_t i) { return i < words.size() ? words[i] : std::string(); };
  auto user_arg = [&](std::size_t i, uint32_t fallback, uint32_t* out) {
    if (i >= words.size()) {
      *out = fallback;
      return true;
    }
    return to_u32(words[i], out);
  };
  uint32_t user = 0;
  int result = 0;

  if (cmd == "quit" || cmd == "exit") {
    return command_result::quit;
  } else if (cmd == "help") {
    print_line(command_help());
    return command_result::done;
  } else if (cmd == "frames") {
    print_line(observer.frame_counts());
    return command_result::done;
  } else if (cmd == "dump" && words.size() == 4 && to_u32(words[1], &user) &&
             parse_kind(words[2])) {
    result = observer.newest_frames.dump_ppm(user, parse_kind(words[2]), words[3]);
  } else if (cmd == "devices") {
    print_line("devices " +
               std::to_string(library.media_ctrl(media_cmd_device_count,
                                                 reinterpret_cast<void*>(media_kind_video))) +
               " " +
               std::to_string(library.media_ctrl(media_cmd_device_count,
                                                 reinterpret_cast<void*>(media_kind_audio))) +
               " " + std::to_string(library.media_ctrl(media_cmd_speaker_count, nullptr)));
    return command_result::done;
  } else if (cmd == "start") {
    result = library.start_class();
  } else if (cmd == "stop") {
    result = library.stop_class(own_id);
  } else if (cmd == "state") {
    result = library.get_class_state();
  } else if (cmd == "classing") {
    result = library.get_classing_user();
  } else if (cmd == "users") {
    result = library.media_ctrl(media_cmd_user_list, nullptr);
  } else if (cmd == "send" && words.size() >= 2) {
    result = send_text(library, words[1], rest_after(line, 2));
  } else if (cmd == "sendsize" && words.size() == 3 && to_u32(words[2], &user)) {
    result = send_text(library, words[1], sized_text(user));
  } else if ((cmd == "open" || cmd == "close") && parse_kind(arg(1)) &&
             user_arg(2, own_id, &user)) {
    user_media_kind_t stream{user, parse_kind(arg(1))};
    result =
        library.media_ctrl(cmd == "open" ? media_cmd_open_media : media_cmd_close_media, &stream);
  } else if ((cmd == "subscribe" || cmd == "unsubscribe") && to_u32(arg(1), &user) &&
             parse_kind(arg(2))) {
    user_media_kind_t stream{user, parse_kind(arg(2))};
    result = library.media_ctrl(cmd == "subscribe" ? media_cmd_subscribe : media_cmd_unsubscribe,
                                &stream);
  } else if ((cmd == "microphone" || cmd == "speaker") && words.size() == 2) {
    result = select_audio_device(library, cmd, words[1]);
  } else if (cmd == "apply") {
    result = library.application_share();
  } else if (cmd == "cancel-apply") {
    result = library.cancel_application();
  } else if (cmd == "reply" && to_u32(arg(1), &user) && !arg(2).empty()) {
    result = library.reply_share(user, std::atoi(arg(2).c_str()));
  } else if (cmd == "share-start") {
    result = library.start_share();
  } else if (cmd == "share-stop" && user_arg(1, own_id, &user)) {
    result = library.stop_share(user);
  } else if (cmd == "share-users") {
    result = library.get_share_users();
  } else if (cmd == "share-cancel" && to_u32(arg(1), &user)) {
    result = library.cancel_share(user);
  } else if (cmd == "tag-start") {
    result = library.start_tag();
  } else if (cmd == "tag-stop" && user_arg(1, own_id, &user)) {
    result = library.stop_tag(user);
  } else if (cmd == "tag-users") {
    result = library.get_tag_users();
  } else {
    print_line("error unknown command: " + line);
    return command_result::done;
  }
  print_line("result " + cmd + " " + std::to_string(result));
  return command_result::done;
}

}  // namespace bot
