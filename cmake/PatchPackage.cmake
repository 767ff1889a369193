# The test patch package embedded in hotfixer.exe: written by the native
# tree's patchpack, signed with its zsign and the development keys, and
# compiled into a resource script of its own (type "PATCHDATA", id 101,
# language neutral).
#
# Results (cache, for the tests and the demonstration):
#   ZEV_TEST_PATCH_GUID       the package's patch GUID
#   ZEV_TEST_PRODUCT_CODE     the product the package targets; the stand-in
#                             product is installed under this code
#   ZEV_PATCH_PACKAGE         the signed package
#   ZEV_PATCH_PACKAGE_UNSIGNED the same package before signing
# and zev_embed_patch_package(<target>), which adds the resource to a
# Windows executable (hotfixer, and the tests that extract it).

set(ZEV_TEST_PATCH_GUID "{FA7AA09B-8B56-4571-B835-5E2FF8BAE62A}" CACHE INTERNAL "")
set(ZEV_TEST_PRODUCT_CODE "{1CBCCD0E-EEF3-4AEB-B27E-B2B603C43DDE}" CACHE INTERNAL "")
set(ZEV_PATCH_TRANSFORMS ":Z318Upd;:#Z318Upd")
set(ZEV_PATCH_PAYLOAD_BYTES 600000)

set(_dir ${CMAKE_BINARY_DIR}/package)
set(ZEV_PATCH_PACKAGE_UNSIGNED ${_dir}/unsigned/hx318.msp CACHE INTERNAL "")
set(ZEV_PATCH_PACKAGE ${_dir}/hx318.msp CACHE INTERNAL "")
set(_patchpack ${ZEV_NATIVE_DIR}/tools/patchpack/patchpack)
set(_zsign ${ZEV_NATIVE_DIR}/tools/zsign/zsign)

add_custom_command(OUTPUT ${ZEV_PATCH_PACKAGE_UNSIGNED}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${_dir}/unsigned
  COMMAND ${_patchpack} --out ${ZEV_PATCH_PACKAGE_UNSIGNED}
    --patch-guid ${ZEV_TEST_PATCH_GUID} --targets ${ZEV_TEST_PRODUCT_CODE}
    --transforms "${ZEV_PATCH_TRANSFORMS}" --payload-bytes ${ZEV_PATCH_PAYLOAD_BYTES}
  DEPENDS ${_patchpack}
  COMMENT "Writing the test patch package"
  VERBATIM)
add_custom_command(OUTPUT ${ZEV_PATCH_PACKAGE}
  COMMAND ${CMAKE_COMMAND} -E copy ${ZEV_PATCH_PACKAGE_UNSIGNED} ${ZEV_PATCH_PACKAGE}
  COMMAND ${_zsign} sign --keys ${ZEV_KEYS_DIR} ${ZEV_PATCH_PACKAGE}
  DEPENDS ${ZEV_PATCH_PACKAGE_UNSIGNED} ${_zsign} ${ZEV_KEYS_DIR}/sign.prv
  COMMENT "Signing the test patch package"
  VERBATIM)
add_custom_target(zev_patch_package DEPENDS ${ZEV_PATCH_PACKAGE} ${ZEV_PATCH_PACKAGE_UNSIGNED})

set(ZEV_PACKAGE_RC ${CMAKE_BINARY_DIR}/package/package.rc CACHE INTERNAL "")
configure_file(${PROJECT_SOURCE_DIR}/installer/resources/package.rc.in ${ZEV_PACKAGE_RC} @ONLY)

function(zev_embed_patch_package target)
  target_sources(${target} PRIVATE ${ZEV_PACKAGE_RC})
  set_source_files_properties(${ZEV_PACKAGE_RC} TARGET_DIRECTORY ${target}
    PROPERTIES OBJECT_DEPENDS ${ZEV_PATCH_PACKAGE})
  add_dependencies(${target} zev_patch_package)
endfunction()
