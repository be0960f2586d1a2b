/* A library with nothing in it but its resources (and no DllRegisterServer). */
int pakwiz_install_fixture = 1;
