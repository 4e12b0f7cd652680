file(COPY "${CASES}/../../../examples/Example.xcassets" DESTINATION "${WORK}")
