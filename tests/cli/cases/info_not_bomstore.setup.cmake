file(WRITE "${WORK}/notes.txt" "These are notes, not a catalog.\n")
