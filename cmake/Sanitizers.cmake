# ZORVA_SANITIZE=address builds every target with AddressSanitizer and
# UndefinedBehaviorSanitizer; ZORVA_SANITIZE=thread with ThreadSanitizer.
if(ZORVA_SANITIZE STREQUAL "address")
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
elseif(ZORVA_SANITIZE STREQUAL "thread")
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
elseif(NOT ZORVA_SANITIZE STREQUAL "")
  message(FATAL_ERROR "ZORVA_SANITIZE must be empty, address or thread")
endif()
