# Third-party libraries. Boost and FLTK come from their static archives, so the
# installer needs nothing beyond what a Debian desktop ships (libc, X11, Xft,
# fontconfig, libbz2, SQLite, ICU, libacl, libcap).
set(Boost_USE_STATIC_LIBS ON)
find_package(Boost 1.74 REQUIRED COMPONENTS iostreams)
find_package(BZip2 REQUIRED)
find_package(SQLite3 REQUIRED)
find_package(ICU REQUIRED COMPONENTS uc i18n data)
find_package(PkgConfig REQUIRED)
find_package(Threads REQUIRED)
find_library(ACL_LIB acl REQUIRED)
find_library(CAP_LIB cap REQUIRED)
find_library(FLTK_STATIC libfltk.a REQUIRED)
find_library(FLTK_IMAGES_STATIC libfltk_images.a REQUIRED)
find_package(X11 REQUIRED)
pkg_check_modules(XFT REQUIRED xft fontconfig xinerama xcursor xfixes xrender)

# The toolkit and the X libraries under it, for platform/ui only.
add_library(mw_fltk INTERFACE)
target_link_libraries(mw_fltk INTERFACE
  ${FLTK_IMAGES_STATIC} ${FLTK_STATIC} ${XFT_LIBRARIES} ${X11_LIBRARIES} Threads::Threads dl m)
