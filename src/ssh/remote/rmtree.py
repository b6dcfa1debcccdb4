import shutil, sys, base64
target = base64.b64decode('{}').decode('utf-8')
try:
    shutil.rmtree(target)
except Exception as e:
    sys.stderr.write(str(e))
    sys.exit(1)
