import os, sys, base64
target = base64.b64decode('{}').decode('utf-8')
try:
    os.remove(target)
except Exception as e:
    sys.stderr.write(str(e))
    sys.exit(1)
