# What the libFuzzer projects of the platform, the player and the viewer share, included right
# after project(): C++20 with Qt, ASan and UBSan over libFuzzer's coverage (`sanitizers` goes to
# the link too), and the same binary from every clone, so a seeded run replays anywhere.
# GD_ROOT is the source tree.
set(CMAKE_CXX_STANDARD 20)
set(CMAKE_CXX_STANDARD_REQUIRED ON)
find_package(Threads REQUIRED)
find_package(Qt6 REQUIRED COMPONENTS Core Gui Widgets)

set(sanitizers -fsanitize=address,undefined -fno-sanitize-recover=undefined)
add_compile_options(-g -O1 -fno-omit-frame-pointer -fsanitize=fuzzer-no-link ${sanitizers})
get_filename_component(GD_ROOT ${GD_ROOT} ABSOLUTE)
add_compile_options(-ffile-prefix-map=${GD_ROOT}=.)
# The platform's forms read the window manager's frame extents through xcb.
find_library(GD_FUZZ_XCB xcb REQUIRED)
link_libraries(${GD_FUZZ_XCB})
