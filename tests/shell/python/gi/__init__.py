# SPDX-License-Identifier: Apache-2.0
# Stand-in for PyGObject as Nautilus' Python support offers it, enough to load
# our extension. STUB_NAUTILUS_API picks the API version that exists (4.0 or 3.0).
import os


def require_version(namespace, version):
    if namespace == "Nautilus" and version != os.environ.get("STUB_NAUTILUS_API", "4.0"):
        raise ValueError("Namespace Nautilus not available for version " + version)
