file(WRITE "${WORK}/Out.car" "These are notes, not a catalog.\n")
file(MAKE_DIRECTORY "${WORK}/Empty")
