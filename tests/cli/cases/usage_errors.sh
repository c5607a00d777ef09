# Every malformed command line is a usage error (exit 2) with a one-line reason on stderr,
# and touches no file.
touch a b
velkpatch; echo "exit=$?"
velkpatch frobnicate; echo "exit=$?"
velkpatch create a; echo "exit=$?"
velkpatch create a b; echo "exit=$?"
velkpatch create a b -o; echo "exit=$?"
velkpatch create a b -o c --stub s --payload-only; echo "exit=$?"
velkpatch create a b -o c --stub s --x86; echo "exit=$?"
velkpatch create a b -o c --level 9; echo "exit=$?"
velkpatch create a b -o c -o d; echo "exit=$?"
velkpatch create a b -o c --stub ""; echo "exit=$?"
velkpatch create a b -o c --description ""; echo "exit=$?"
velkpatch info; echo "exit=$?"
velkpatch info a b; echo "exit=$?"
velkpatch apply a; echo "exit=$?"
velkpatch apply a b --yes --no; echo "exit=$?"
velkpatch apply a b --no-crc; echo "exit=$?"
velkpatch recover; echo "exit=$?"
velkpatch recover a b; echo "exit=$?"
velkpatch recover a --yes; echo "exit=$?"
ls
