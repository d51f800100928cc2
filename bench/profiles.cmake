# Cost of building the profile word lists and rolling one profile.
add_executable(bench_profiles ${CMAKE_CURRENT_LIST_DIR}/bench_profiles.cpp)
target_link_libraries(bench_profiles PRIVATE quellfx_profiles)
