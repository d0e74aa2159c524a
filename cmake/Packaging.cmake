# Installation and the update package the update service serves.
install(TARGETS castora RUNTIME DESTINATION bin)
