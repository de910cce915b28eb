# Runs after CPack has built the packages (CPACK_POST_BUILD_SCRIPTS). CMake 3.25 writes the
# debug-symbol package's md5sums with the absolute paths of its staging folder, which no
# installed file has (dpkg --verify and lintian fail on them), and gives the package no
# documentation folder. The .ddeb is rebuilt with its sums relative to the root, as dpkg keeps
# them, and with /usr/share/doc/velkor-dbgsym pointing at velkor's, as Debian's own -dbgsym
# packages do (their copyright and changelog are the main package's).
foreach(package IN LISTS CPACK_PACKAGE_FILES)
  if(NOT package MATCHES "-dbgsym_.*\\.ddeb$")
    continue()
  endif()
  get_filename_component(folder "${package}" DIRECTORY)
  set(root "${folder}/dbgsym-repair")
  file(REMOVE_RECURSE "${root}")
  execute_process(COMMAND dpkg-deb --raw-extract "${package}" "${root}" COMMAND_ERROR_IS_FATAL ANY)
  file(GLOB_RECURSE files LIST_DIRECTORIES false RELATIVE "${root}" "${root}/usr/*")
  list(SORT files)
  set(sums "")
  foreach(file IN LISTS files)
    file(MD5 "${root}/${file}" sum)
    string(APPEND sums "${sum}  ${file}\n")
  endforeach()
  file(WRITE "${root}/DEBIAN/md5sums" "${sums}")
  file(MAKE_DIRECTORY "${root}/usr/share/doc")
  file(CREATE_LINK velkor "${root}/usr/share/doc/velkor-dbgsym" SYMBOLIC)
  execute_process(COMMAND dpkg-deb --root-owner-group --build "${root}" "${package}"
    OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
  file(REMOVE_RECURSE "${root}")
endforeach()
