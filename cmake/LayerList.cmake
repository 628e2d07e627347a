# The layers of src/, each with the folders below it that it may see, how
# they link, and the objects of the library made of them. The Linux and the
# Windows build make the same targets from this one list and add only their
# own system libraries.
qm_layer(qm_common        common)
qm_layer(qm_platform_os       platform/os       BELOW common)
qm_layer(qm_platform_openssl  platform/openssl  BELOW common platform/os)
qm_layer(qm_platform_names    platform/names    BELOW common platform/os platform/openssl)
qm_layer(qm_platform_store    platform/store
         BELOW common platform/os platform/openssl platform/names)
qm_layer(qm_platform_registry platform/registry
         BELOW common platform/os platform/openssl platform/names platform/store)
qm_layer(qm_platform_ui       platform/ui
         BELOW common platform/os platform/openssl platform/names platform/store platform/registry)
qm_layer(qm_platform_keys     platform/keys
         BELOW common platform/os platform/openssl platform/names platform/store platform/registry
               platform/ui)
qm_layer(qm_platform_chain    platform/chain
         BELOW common platform/os platform/openssl platform/names platform/store platform/registry
               platform/ui platform/keys)
qm_layer(qm_platform_message  platform/message
         BELOW common platform/os platform/openssl platform/names platform/store platform/registry
               platform/ui platform/keys platform/chain)
qm_layer(qm_platform_automation platform/automation
         BELOW common platform/os platform/openssl platform/names platform/store platform/registry
               platform/ui platform/keys platform/chain platform/message)
qm_layer(qm_encoding   encoding   BELOW common platform)
qm_layer(qm_signeddata signeddata BELOW common platform)
qm_layer(qm_certs      certs      BELOW common platform)
qm_layer(qm_crypto     crypto     BELOW common platform encoding signeddata certs)
qm_layer(qm_control    control    BELOW common platform encoding signeddata certs crypto)
qm_layer(qm_com        com        BELOW common platform encoding signeddata certs crypto control)
qm_layer(qm_demo       demo       BELOW common platform)

target_link_libraries(qm_platform_os PUBLIC qm_common)
target_link_libraries(qm_platform_openssl PUBLIC qm_platform_os)
target_link_libraries(qm_platform_names PUBLIC qm_platform_openssl)
target_link_libraries(qm_platform_store PUBLIC qm_platform_names)
target_link_libraries(qm_platform_registry PUBLIC qm_platform_store)
target_link_libraries(qm_platform_ui PUBLIC qm_platform_registry)
target_link_libraries(qm_platform_keys PUBLIC qm_platform_ui)
target_link_libraries(qm_platform_chain PUBLIC qm_platform_keys)
target_link_libraries(qm_platform_message PUBLIC qm_platform_chain)
target_link_libraries(qm_platform_automation PUBLIC qm_platform_message)
target_link_libraries(qm_encoding PUBLIC qm_platform_automation ZLIB::ZLIB)
target_link_libraries(qm_signeddata PUBLIC qm_platform_automation)
target_link_libraries(qm_certs PUBLIC qm_platform_automation)
target_link_libraries(qm_crypto PUBLIC qm_certs qm_signeddata qm_encoding)
target_link_libraries(qm_control PUBLIC qm_crypto)
target_link_libraries(qm_com PUBLIC qm_control)

# The objects of every layer from common up to com.
set(QM_LIBRARY_LAYERS qm_common qm_platform_os qm_platform_openssl qm_platform_names
    qm_platform_store qm_platform_registry qm_platform_ui qm_platform_keys qm_platform_chain
    qm_platform_message qm_platform_automation qm_encoding qm_signeddata qm_certs qm_crypto
    qm_control qm_com)
set(QM_LIBRARY_OBJECTS)
foreach(layer ${QM_LIBRARY_LAYERS})
  list(APPEND QM_LIBRARY_OBJECTS $<TARGET_OBJECTS:${layer}>)
endforeach()
