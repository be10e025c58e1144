# Warnings are errors, on every compiler the project is built with.
set(ANYKEY_WARNINGS
  -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion
  -Wcast-align -Wold-style-cast -Wnon-virtual-dtor -Werror)
