# AddressSanitizer + UndefinedBehaviorSanitizer for the whole build.
set(QL_SAN_FLAGS -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
add_compile_options(${QL_SAN_FLAGS})
add_link_options(${QL_SAN_FLAGS})
