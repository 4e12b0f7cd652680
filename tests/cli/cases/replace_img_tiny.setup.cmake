file(COPY "${FIXTURES}/tiny.car" DESTINATION "${WORK}")
