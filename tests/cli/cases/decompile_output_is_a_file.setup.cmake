file(WRITE "${WORK}/taken.xcassets" "a file where the output directory would go\n")
