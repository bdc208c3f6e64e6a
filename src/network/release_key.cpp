// The release public key compiled into the launcher. A build that needs another key (the tests'
// keyed launcher) links its own definition of BuiltInReleasePublicKey ahead of this library, and
// this file is then not taken from it.
#include "network/release_download.h"

#ifndef ZELK_RELEASE_PUBLIC_KEY
#define ZELK_RELEASE_PUBLIC_KEY ""
#endif

std::string_view BuiltInReleasePublicKey() { return ZELK_RELEASE_PUBLIC_KEY; }
