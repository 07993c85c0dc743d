// Lets a layer library exist before its first source file.
