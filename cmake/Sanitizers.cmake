# Applied globally so that every library and test shares one instrumented runtime.
if(VARDELIO_SANITIZE)
  set(_san_flags -fsanitize=${VARDELIO_SANITIZE} -fno-omit-frame-pointer -g)
  if(VARDELIO_SANITIZE MATCHES "undefined")
    list(APPEND _san_flags -fno-sanitize-recover=undefined)
  endif()
  add_compile_options(${_san_flags})
  add_link_options(-fsanitize=${VARDELIO_SANITIZE})
endif()
