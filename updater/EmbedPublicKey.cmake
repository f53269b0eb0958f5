# cmake -DKEY=<public key file, 64 hex digits> -DOUT=<source> -P EmbedPublicKey.cmake
file(READ "${KEY}" hex)
string(STRIP "${hex}" hex)
if(NOT hex MATCHES "^[0-9a-fA-F]+$")
  message(FATAL_ERROR "${KEY}: not a public key (hexadecimal expected)")
endif()
string(LENGTH "${hex}" length)
if(NOT length EQUAL 64)
  message(FATAL_ERROR "${KEY}: not a public key (64 hexadecimal digits expected)")
endif()
string(REGEX REPLACE "([0-9a-fA-F][0-9a-fA-F])" "0x\\1," bytes "${hex}")
file(WRITE "${OUT}.tmp"
"// Generated from ${KEY}: the public key releases are checked against.
extern const unsigned char kTavUpdatePublicKey[32];
const unsigned char kTavUpdatePublicKey[32] = {${bytes}};
")
file(COPY_FILE "${OUT}.tmp" "${OUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUT}.tmp")
