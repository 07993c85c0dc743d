# Read by cpack as it runs. Each package's description starts with its own
# synopsis; the project-wide summary would be put above both.
unset(CPACK_PACKAGE_DESCRIPTION_SUMMARY)
