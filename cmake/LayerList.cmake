# The layers of src/, each with the folders below it that it may see. The
# Linux and the Windows build make the same targets from this one list.
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
