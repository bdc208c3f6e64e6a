# Writes a source file defining BuiltInReleasePublicKey() as the key in PUBLIC_KEY_FILE.
file(READ ${PUBLIC_KEY_FILE} key)
string(STRIP "${key}" key)
file(WRITE ${OUTPUT} "// Made at build time from ${PUBLIC_KEY_FILE}.\n#include \"network/release_download.h\"\n\nstd::string_view BuiltInReleasePublicKey() { return \"${key}\"; }\n")
