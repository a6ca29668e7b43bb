# The programs' version and manifest: the project version (the one place it is set) is written
# into a header for the VERSIONINFO resources and into each program's application manifest.
set(PW_GENERATED_DIR ${CMAKE_BINARY_DIR}/generated)
set(PW_VERSION_QUAD
    "${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH}.0")
configure_file(${CMAKE_CURRENT_LIST_DIR}/pwversion.h.in ${PW_GENERATED_DIR}/pwversion.h @ONLY)

# Gives TARGET (the one that compiles RC_FILE) the version header and the manifest NAME.manifest,
# which RC_FILE embeds as resource 1 of type 24 (RT_MANIFEST).
function(pw_program_resources target rc_file name)
    set(PW_PROGRAM_NAME ${name})
    configure_file(${PROJECT_SOURCE_DIR}/cmake/program.manifest.in
                   ${PW_GENERATED_DIR}/${name}.manifest @ONLY)
    target_include_directories(${target} PRIVATE ${PW_GENERATED_DIR})
    # windres reports no dependencies: rebuild the resources when a generated file changes.
    set_property(SOURCE ${rc_file} APPEND PROPERTY OBJECT_DEPENDS
                 ${PW_GENERATED_DIR}/pwversion.h ${PW_GENERATED_DIR}/${name}.manifest)
endfunction()
