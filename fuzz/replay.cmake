# Replays each fuzz target's committed corpus as an ordinary CTest test (label unit), in every
# build and with any compiler: the target's source with replay_main.cpp instead of libFuzzer.
# Included from tests/core/CMakeLists.txt.
set(_kest_fuzz_dir ${CMAKE_CURRENT_LIST_DIR})
foreach(t fuzz_names fuzz_reply fuzz_zipname)
    add_executable(replay_${t} ${_kest_fuzz_dir}/${t}.cpp ${_kest_fuzz_dir}/replay_main.cpp)
    target_link_libraries(replay_${t} PRIVATE kestcore)
    target_include_directories(replay_${t} PRIVATE ${_kest_fuzz_dir}/..)
    add_test(NAME fuzz_replay_${t} COMMAND replay_${t} ${_kest_fuzz_dir}/corpus/${t})
    set_tests_properties(fuzz_replay_${t} PROPERTIES LABELS unit TIMEOUT 300)
endforeach()
# The reply target writes with the server's own reply writer.
target_link_libraries(replay_fuzz_reply PRIVATE kestresolver)

# The zone file reader's corpus (corpus/zonefile).
add_executable(replay_zonefile_fuzz ${_kest_fuzz_dir}/zonefile_fuzz.cpp ${_kest_fuzz_dir}/replay_main.cpp)
target_link_libraries(replay_zonefile_fuzz PRIVATE kestauthority)
target_include_directories(replay_zonefile_fuzz PRIVATE ${_kest_fuzz_dir}/..)
add_test(NAME fuzz_replay_zonefile COMMAND replay_zonefile_fuzz ${_kest_fuzz_dir}/corpus/zonefile)
set_tests_properties(fuzz_replay_zonefile PROPERTIES LABELS unit TIMEOUT 300)
# The datagram path needs the server's libraries.
add_executable(replay_datagram_fuzz ${_kest_fuzz_dir}/datagram_fuzz.cpp ${_kest_fuzz_dir}/replay_main.cpp)
target_link_libraries(replay_datagram_fuzz PRIVATE kestserver)
target_include_directories(replay_datagram_fuzz PRIVATE ${_kest_fuzz_dir}/..)
add_test(NAME fuzz_replay_datagram COMMAND replay_datagram_fuzz ${_kest_fuzz_dir}/corpus/datagram)
set_tests_properties(fuzz_replay_datagram PROPERTIES LABELS unit TIMEOUT 300)
# The transfer client's stream reading (corpus/xfrin).
add_executable(replay_xfrin_fuzz ${_kest_fuzz_dir}/xfrin_fuzz.cpp ${_kest_fuzz_dir}/replay_main.cpp)
target_link_libraries(replay_xfrin_fuzz PRIVATE kestreplication)
target_include_directories(replay_xfrin_fuzz PRIVATE ${_kest_fuzz_dir}/..)
add_test(NAME fuzz_replay_xfrin COMMAND replay_xfrin_fuzz ${_kest_fuzz_dir}/corpus/xfrin)
set_tests_properties(fuzz_replay_xfrin PROPERTIES LABELS unit TIMEOUT 300)
# The TCP side of port 53 (corpus/tcp).
add_executable(replay_tcp_fuzz ${_kest_fuzz_dir}/tcp_fuzz.cpp ${_kest_fuzz_dir}/replay_main.cpp)
target_link_libraries(replay_tcp_fuzz PRIVATE kestserver)
target_include_directories(replay_tcp_fuzz PRIVATE ${_kest_fuzz_dir}/..)
add_test(NAME fuzz_replay_tcp COMMAND replay_tcp_fuzz ${_kest_fuzz_dir}/corpus/tcp)
set_tests_properties(fuzz_replay_tcp PROPERTIES LABELS unit TIMEOUT 300)
# The look-up tool's reply printer and zone transfer reader (corpus/lookup_reply, lookup_xfr).
foreach(t lookup_reply lookup_xfr)
    add_executable(replay_${t}_fuzz ${_kest_fuzz_dir}/${t}_fuzz.cpp ${_kest_fuzz_dir}/replay_main.cpp
                                    ${_kest_fuzz_dir}/../lookup/query_text.cpp)
    target_link_libraries(replay_${t}_fuzz PRIVATE kestcore)
    target_include_directories(replay_${t}_fuzz PRIVATE ${_kest_fuzz_dir}/..)
    add_test(NAME fuzz_replay_${t} COMMAND replay_${t}_fuzz ${_kest_fuzz_dir}/corpus/${t})
    set_tests_properties(fuzz_replay_${t} PROPERTIES LABELS unit TIMEOUT 300)
endforeach()
# The DHCP server (corpus/dhcp).
add_executable(replay_dhcp_fuzz ${_kest_fuzz_dir}/dhcp_fuzz.cpp ${_kest_fuzz_dir}/replay_main.cpp)
target_link_libraries(replay_dhcp_fuzz PRIVATE kestdhcp)
target_include_directories(replay_dhcp_fuzz PRIVATE ${_kest_fuzz_dir}/..)
add_test(NAME fuzz_replay_dhcp COMMAND replay_dhcp_fuzz ${_kest_fuzz_dir}/corpus/dhcp)
set_tests_properties(fuzz_replay_dhcp PROPERTIES LABELS unit TIMEOUT 300)
